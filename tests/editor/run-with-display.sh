#!/bin/sh
# JUCE's GUI code needs an X display on Linux: run the command on a private
# virtual one, so tests never touch a real desktop and can run side by side.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"
