#!/usr/bin/env bash
# Prints the machine of a Windows executable: i386, amd64 or unknown.
le16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
pe=$(le32 "$1" 60)
machine=$(le16 "$1" $((pe + 4)))
case "$machine" in
  332) echo i386 ;;
  34404) echo amd64 ;;
  *) echo unknown ;;
esac
