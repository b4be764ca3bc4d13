#!/usr/bin/env bash
# Fails when a source file includes a project header from a folder its layer may not use.
# The layers, lowest first: base -> os -> xml, ipc, hal -> toi -> translation, infocast -> service
# -> adapters -> daemon -> tools, bench, web; headend (the sending side) sits on infocast and
# xml and is used by tools and bench only; client (the application library) sits on toi and is
# used by tools, bench and web only. A folder may include from itself and from the folders
# listed for it below, which are exactly the ones it uses (the CMake library of a folder links
# only folders of its row); a new folder must be added here before its files may include
# anything.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

declare -A allowed=(
  [base]=""
  [os]="base"
  [xml]="base"
  [ipc]="base os"
  [hal]="base os"
  [toi]="base ipc"
  [translation]="base os xml"
  [infocast]="base os xml translation"
  [service]="base os ipc toi translation infocast"
  [adapters]="base os xml hal translation infocast service"
  [daemon]="base os ipc toi translation service adapters"
  [client]="base os ipc toi"
  [headend]="base os xml infocast"
  [tools]="base os ipc toi infocast daemon client headend"
  [bench]="base os ipc toi infocast service adapters client headend"
  [web]="client"
)

violations=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/^[^:]*:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$line")
    [ "$target" = "$folder" ] && continue
    case " ${allowed[$folder]} " in
      *" $target "*) continue ;;
    esac
    echo "layer violation: $file includes from $target/ (${folder}/ may use: ${allowed[$folder]:-nothing})" >&2
    violations=$((violations + 1))
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' -r "$folder" --include='*.h' --include='*.cpp' || true)
done

# A source folder that the table does not know is a folder nobody has placed in a layer.
for dir in */; do
  dir=${dir%/}
  case "$dir" in build* | tests | docs | examples | scripts | cmake) continue ;; esac
  if compgen -G "$dir/*.cpp" >/dev/null || compgen -G "$dir/*.h" >/dev/null; then
    [ -n "${allowed[$dir]+set}" ] || { echo "layer check: folder $dir/ is not in the layer table" >&2; violations=$((violations + 1)); }
  fi
done

if [ "$violations" -gt 0 ]; then
  echo "$violations layer violation(s)" >&2
  exit 1
fi
echo "layers: every include points down"
