# Sourced by tools/test and tools/demo: a Wine prefix and (when needed) an Xvfb display of their own.
# After wine_session_start: WINEPREFIX, DISPLAY and WINEDEBUG are exported; wine_session_stop tears down.

wine_session_start() {
  local root="$1"  # folder that holds the prefix; removed by wine_session_stop when owned
  export WINEPREFIX="$root/prefix"
  export WINEARCH=win64
  export WINEDEBUG=-all
  # No Mono or Gecko prompts, and no host menu entries for the shortcuts that runs create.
  export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
  if [ -z "${MAKETOR_USE_DISPLAY:-}" ]; then
    local n
    for n in $(seq 91 140); do
      if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then break; fi
    done
    Xvfb ":$n" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
    WINE_SESSION_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X${n}" ] && break
      sleep 0.1
    done
  fi
  mkdir -p "$root"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  # A new prefix links Desktop, Documents and the like to the host's home; give the prefix folders of its own
  # so that shortcuts made and removed in it never touch the host.
  local link
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
  done
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${WINE_SESSION_XVFB_PID:-}" ]; then
    kill "$WINE_SESSION_XVFB_PID" >/dev/null 2>&1 || true
    wait "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    unset WINE_SESSION_XVFB_PID
  fi
}
