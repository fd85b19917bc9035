#!/usr/bin/env bash
# Makes a small demo: a camera card whose pictures were partly imported
# before, under other names, into a dated library.
set -euo pipefail
demo="$1"
rm -rf "$demo"
mkdir -p "$demo/card/DCIM/100CANON" "$demo/library/2026-11-02" "$demo/library/2026-11-30"

picture() {  # picture FILE SEED SIZE: a fake JPEG of SIZE bytes
  { printf '\xff\xd8\xff\xe0JFIF'; head -c "$3" /dev/zero | tr '\0' "$2"; } > "$1"
}
picture "$demo/card/DCIM/100CANON/IMG_0001.JPG" a 40000
picture "$demo/card/DCIM/100CANON/IMG_0002.JPG" b 52000
picture "$demo/card/DCIM/100CANON/IMG_0003.JPG" c 52000
picture "$demo/card/DCIM/100CANON/IMG_0004.JPG" d 61000
picture "$demo/library/2026-11-02/beach.jpg" a 40000
picture "$demo/library/2026-11-30/sunset.jpg" c 52000
picture "$demo/library/2026-11-30/family.jpg" e 61000
