#!/usr/bin/env bash
# The drag case on an X server without a window manager: the engine moves the window itself.
exec bash "$(dirname "$0")/drag.sh" "$1" --bare
