#!/usr/bin/env bash
# Dependencies point one way: raster <- imagefiles <- core <- cli, serve, app, and raster <- view <- app
# (the preview's view model, which the command line never builds). Only imagefiles includes codec
# headers, only core includes AGG, only app includes Qt.
set -u
cd "$1" || exit 2
bad=0
check() { # folder, forbidden pattern, why
  local hits
  hits=$(grep -rnE "^\s*#\s*include\s*[<\"]($2)" "$1" 2>/dev/null)
  if [ -n "$hits" ]; then echo "$1 must not include $3:"; echo "$hits"; bad=1; fi
}
check raster     'imagefiles/|core/|view/|cli/|app/|png\.h|jpeglib|zlib|agg_|Q[A-Z]|qt' 'upper layers, codecs, AGG or Qt'
check view       'imagefiles/|core/|cli/|app/|png\.h|jpeglib|zlib|agg_|Q[A-Z]|qt' 'files, the render, front ends, codecs or Qt'
check imagefiles 'core/|view/|cli/|app/|agg_|Q[A-Z]|qt'                       'core, front ends, AGG or Qt'
check core       'view/|cli/|app/|png\.h|jpeglib|gif_lib|tiffio|[Mm]agick|ImageMagick|Q[A-Z]|qt' 'the view model, front ends, codecs or Qt'
check cli        'view/|app/|png\.h|jpeglib|gif_lib|tiffio|[Mm]agick|ImageMagick|Q[A-Z]|qt' 'the view model, codecs, the window or Qt'
check serve      'view/|cli/|app/|png\.h|jpeglib|gif_lib|tiffio|[Mm]agick|ImageMagick|agg_|Q[A-Z]|qt' 'the view model, other front ends, codecs or Qt'
check app        'png\.h|jpeglib|gif_lib|tiffio|[Mm]agick|ImageMagick|agg_' 'codecs or AGG'
[ $bad -eq 0 ] && echo "layer includes: ok"
exit $bad
