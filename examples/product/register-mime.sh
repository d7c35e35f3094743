#!/bin/sh
# Registers the player for its media types (sample: lists them only).
set -eu
cat "$(dirname "$0")/mime/ovelo.types"
