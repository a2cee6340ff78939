#!/usr/bin/env bash
# The popup case on an X server without a window manager (a kiosk): no one hands the focus back
# when the menu closes.
exec bash "$(dirname "$0")/popup.sh" "$1" --bare
