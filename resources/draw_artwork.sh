#!/usr/bin/env bash
# Draws the program icon (icon.png, 256 x 256) and the logo (logo.png,
# 797 x 284) with ImageMagick. The PNGs are committed; run this only to
# change the artwork. CONVERT may name a particular ImageMagick binary.
set -euo pipefail
cd "$(dirname "$0")"
convert=${CONVERT:-convert}
font=${FONT:-DejaVu-Sans-Bold}

# The icon: a blue tile with an open book whose spine is a zip fastener.
"$convert" -size 256x256 xc:none \
  -fill '#004EEA' -draw 'roundrectangle 8,8 247,247 44,44' \
  -fill '#FFFFFF' -draw 'path "M 40,70 Q 84,52 124,72 L 124,200 Q 84,182 40,198 Z"' \
  -fill '#FFFFFF' -draw 'path "M 132,72 Q 172,52 216,70 L 216,198 Q 172,182 132,200 Z"' \
  -fill '#FFC629' -draw 'rectangle 122,64 134,206' \
  -fill '#004EEA' \
  -draw 'rectangle 122,76 128,82' -draw 'rectangle 128,88 134,94' \
  -draw 'rectangle 122,100 128,106' -draw 'rectangle 128,112 134,118' \
  -draw 'rectangle 122,124 128,130' -draw 'rectangle 128,136 134,142' \
  -draw 'rectangle 122,148 128,154' -draw 'rectangle 128,160 134,166' \
  -fill '#FFC629' -draw 'roundrectangle 116,176 140,216 6,6' \
  -stroke '#9DB8F5' -strokewidth 4 \
  -draw 'line 58,100 108,92' -draw 'line 58,124 108,116' -draw 'line 58,148 108,140' \
  -draw 'line 148,92 198,100' -draw 'line 148,116 198,124' -draw 'line 148,140 198,148' \
  -depth 8 icon.png

# The logo: the icon beside the name and what the program does.
"$convert" -size 797x284 xc:none \
  \( icon.png -resize 236x236 \) -geometry +20+24 -composite \
  -font "$font" -pointsize 128 -fill '#004EEA' -annotate +282+165 'Plimsy' \
  -font "$font" -pointsize 40 -fill '#3A3A3A' -annotate +290+232 'zip · unzip · analyse' \
  -depth 8 logo.png
