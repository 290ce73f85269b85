#!/usr/bin/env bash
# The frei0r modules in the real tools, against the FreeFrame builds.
#
#   host_tools_test.sh <check> <frei0r dir> <counter module dir> <freeframe_render>
#
# ffmpeg, gstreamer, melt: every deliverable renders a small clip through the tool, with
# parameters set through the tool, and the frames must equal the FreeFrame output for the
# same frames and values (freeframe_render). melt-threads: MLT renders through one
# filter instance, in frame order, with real_time=-1 (the setting the README gives), and
# through several instances with real_time=-4 (which shows the check can see that).
set -euo pipefail

check=$1
frei0r_dir=$2
counter_dir=$3
render=$4

width=96  # a multiple of 16: FFmpeg 5.1 pads the rows of other widths
height=72
frames=24
frame_bytes=$((width * height * 4))
deliverables=(QelParticles1 QelParticles2 QelParticles3 QelInferno1 QelInferno2 QelStains1)
# Parameter values in frei0r order, cycled over the parameters of each filter.
cycle=(0.3 0.85 0.05 0.6 0.95 0.15 0.5 0.7 0.4 0.25 0.9 0.1 0.65)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

need() {
  command -v "$1" > /dev/null || { echo "FAIL: $1 not found (Debian package $2; ./setup.sh installs it)"; exit 1; }
}

need ffmpeg ffmpeg
# A lossless BGRA clip with motion, and its frames as raw BGRA for the reference.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=${width}x${height}:rate=25" \
  -frames:v "$frames" -c:v ffv1 -pix_fmt bgra "$work/clip.mkv"
ffmpeg -nostdin -loglevel error -i "$work/clip.mkv" -f rawvideo -pix_fmt bgra "$work/in.bgra"

module_of() { echo "$1" | tr '[:upper:]' '[:lower:]'; }

# values <deliverable>: one value per frei0r parameter, into the array `values`.
load_values() {
  mapfile -t names < <("$render" "$1" --names)
  values=()
  for ((k = 0; k < ${#names[@]}; k++)); do values+=("${cycle[k % ${#cycle[@]}]}"); done
}

reference() {
  "$render" "$1" "$width" "$height" "$work/in.bgra" "$work/ref.bgra" "${values[@]}"
}

compare() {  # compare <deliverable> <tool output>
  local size
  size=$(stat -c %s "$2")
  if [ "$size" -ne $((frames * frame_bytes)) ]; then
    echo "FAIL: $1: $size bytes from the tool, want $((frames * frame_bytes))"
    exit 1
  fi
  if ! cmp -s "$work/ref.bgra" "$2"; then
    local at
    at=$(cmp "$work/ref.bgra" "$2" | awk '{print $5}' | tr -d , || true)
    echo "FAIL: $1: differs from the FreeFrame output at byte $at (frame $(((at - 1) / frame_bytes)))"
    exit 1
  fi
  echo "ok: $1 equals the FreeFrame output"
}

check_ffmpeg() {
  for name in "${deliverables[@]}"; do
    load_values "$name"
    reference "$name"
    local params
    params=$(IFS='|'; echo "${values[*]}")
    FREI0R_PATH="$frei0r_dir" ffmpeg -nostdin -loglevel error -i "$work/clip.mkv" \
      -vf "frei0r=filter_name=$(module_of "$name"):filter_params=$params" \
      -f rawvideo -pix_fmt bgra "$work/out.bgra" -y
    compare "$name" "$work/out.bgra"
  done
}

check_gstreamer() {
  need gst-launch-1.0 gstreamer1.0-tools
  # A registry of our own, so that the plug-in scan sees this FREI0R_PATH.
  export GST_REGISTRY="$work/registry.bin" FREI0R_PATH="$frei0r_dir"
  for name in "${deliverables[@]}"; do
    load_values "$name"
    reference "$name"
    # GStreamer names a frei0r parameter in lower case with '-' for spaces.
    local properties=()
    for ((k = 0; k < ${#names[@]}; k++)); do
      properties+=("$(echo "${names[k]}" | tr '[:upper:] ' '[:lower:]-')=${values[k]}")
    done
    gst-launch-1.0 -q filesrc location="$work/in.bgra" \
      ! rawvideoparse format=bgra width=$width height=$height framerate=25/1 \
      ! "frei0r-filter-$(module_of "$name")" "${properties[@]}" \
      ! filesink location="$work/out.bgra"
    compare "$name" "$work/out.bgra"
  done
}

write_profile() {
  cat > "$work/profile" << PROFILE
description=${width}x${height} test
frame_rate_num=25
frame_rate_den=1
width=$width
height=$height
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=$width
display_aspect_den=$height
colorspace=601
PROFILE
}

# melt_render <filter> <real_time> [property=value ...]: renders the clip into out.bgra.
melt_render() {
  local filter=$1 real_time=$2
  shift 2
  rm -f "$work/out.bgra"
  melt -quiet -profile "$work/profile" "$work/clip.mkv" -filter "$filter" "$@" \
    -consumer "avformat:$work/out.bgra" f=rawvideo pix_fmt=bgra an=1 real_time="$real_time" \
    < /dev/null > "$work/melt.log" 2>&1 || { cat "$work/melt.log"; echo "FAIL: melt failed"; exit 1; }
  [ -s "$work/out.bgra" ] || { cat "$work/melt.log"; echo "FAIL: melt wrote no frames"; exit 1; }
}

check_melt() {
  need melt melt
  write_profile
  export FREI0R_PATH="$frei0r_dir"
  for name in "${deliverables[@]}"; do
    load_values "$name"
    reference "$name"
    local properties=()  # MLT names frei0r parameters by index
    for ((k = 0; k < ${#values[@]}; k++)); do properties+=("$k=${values[k]}"); done
    melt_render "frei0r.$(module_of "$name")" -1 "${properties[@]}"
    compare "$name" "$work/out.bgra"
  done
}

# stamps <file>: "count:serial" of every frame of the counter module's output (byte 0 is
# its marker 200, byte 1 the instance's frame count, byte 2 the instance's serial).
stamps() {
  local size n i
  size=$(stat -c %s "$1")
  n=$((size / frame_bytes))
  for ((i = 0; i < n; i++)); do
    read -r marker count serial < <(od -An -tu1 -j $((i * frame_bytes)) -N3 "$1")
    if [ "$marker" -ne 200 ]; then
      echo "FAIL: frame $i: marker $marker in byte 0 (the host swapped the channels)" >&2
      exit 1
    fi
    echo "$count:$serial"
  done
}

check_melt_threads() {
  need melt melt
  write_profile
  export FREI0R_PATH="$counter_dir"
  melt_render frei0r.qelcounter -1
  local got want="" i
  got=$(stamps "$work/out.bgra" | tr '\n' ' ')
  for ((i = 0; i < frames; i++)); do want+="$i:1 "; done
  if [ "$got" != "$want" ]; then
    echo "FAIL: real_time=-1 frames went to several instances or out of order: $got"
    exit 1
  fi
  echo "ok: real_time=-1: one instance, frames in order"

  melt_render frei0r.qelcounter -4
  local serials
  serials=$(stamps "$work/out.bgra" | cut -d: -f2 | sort -u | wc -l)
  if [ "$serials" -lt 2 ]; then
    echo "FAIL: real_time=-4 ran one instance: the check above could not tell"
    exit 1
  fi
  echo "ok: real_time=-4 spreads the frames over $serials instances"
}

case "$check" in
  ffmpeg) check_ffmpeg ;;
  gstreamer) check_gstreamer ;;
  melt) check_melt ;;
  melt-threads) check_melt_threads ;;
  *) echo "unknown check $check"; exit 2 ;;
esac
