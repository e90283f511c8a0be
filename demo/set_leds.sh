#!/bin/sh
# Stand-in for the camera's LED utility: records each call instead of driving LEDs.
# The service runs it with an empty environment and its standard error on /dev/null, so each
# call is appended to a file instead (relative to the service's working directory, the
# repository root in the demo).
printf 'set_leds %s\n' "$*" >> build/demo/set_leds.log
