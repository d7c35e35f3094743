// Opening an installer file: the trailer, then the payload's header.
#include "installer_file.h"

#include "gzip_header.h"

namespace {

Outcome VersionOf(const GzipHeader& header, std::string* version)
{
    std::optional<Subfield> field;
    if (!FindSubfield(header.extra, kProductVersionId, &field))
        return Found(Fault::kSealUnreadable);
    if (field)
        *version = header.extra.substr(field->offset, field->size);
    return !field || IsProductVersion(*version) ? Outcome() : Found(Fault::kVersionUnreadable);
}

}  // namespace

Outcome ReadInstallerFile(int fd, InstallerFile* file)
{
    *file = InstallerFile();
    file->fd = fd;
    const std::optional<Payload> payload = FindPayload(fd);
    if (!payload)
        return Found(Fault::kNoPayload);
    file->payload = *payload;
    std::optional<GzipHeader> header;
    if (!ReadGzipHeader(fd, payload->start, payload->length, &header) ||
        (header && !SealOf(*header, &file->seal)))
        return Found(Fault::kSealUnreadable);
    file->indexMisfit =
        header && !ChunkIndexOf(fd, payload->start, payload->length, *header, &file->chunks);
    return header ? VersionOf(*header, &file->productVersion) : Outcome();
}

Outcome CheckSealedChecksum(const InstallerFile& file, Observer& observer)
{
    if (!file.seal)
        return Outcome();
    return Found(CheckSeal(file.fd, file.payload, *file.seal, observer));
}
