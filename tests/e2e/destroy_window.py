#!/usr/bin/env python3
"""Destroys a window of another client, as a window manager or a stray tool may: no close event.

Usage: destroy_window.py WINDOW_ID (on $DISPLAY). Uses libX11 through ctypes.
"""
import ctypes
import sys

xlib = ctypes.CDLL("libX11.so.6")
xlib.XOpenDisplay.restype = ctypes.c_void_p
display = xlib.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
xlib.XDestroyWindow(ctypes.c_void_p(display), ctypes.c_ulong(int(sys.argv[1])))
xlib.XSync(ctypes.c_void_p(display), 0)
xlib.XCloseDisplay(ctypes.c_void_p(display))
