// Where the product's payload lies in an installer file: the file ends in a
// trailer of a newline, the payload's length in decimal and a newline, and
// the payload stands right before it.
#ifndef OVELO_ENGINE_PAYLOAD_H
#define OVELO_ENGINE_PAYLOAD_H

#include <optional>
#include <sys/types.h>

struct Payload {
    off_t start = 0;
    off_t length = 0;
    off_t fileSize = 0;
};

// Reads the trailer of the file open on fd (pread only; the file offset is
// left alone).  Nothing when there is no trailer, when it does not end in a
// newline or when it names more payload than the file holds.
std::optional<Payload> FindPayload(int fd);

#endif
