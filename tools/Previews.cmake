# Made by tools/templategen.py: the sample artwork each template's preview shows.
set(QUIRLON_PREVIEWS
  "01 Software box left|front=${PROJECT_SOURCE_DIR}/examples/box-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/box-side.jpg,top=${PROJECT_SOURCE_DIR}/examples/box-top.jpg"
  "02 Software box right|front=${PROJECT_SOURCE_DIR}/examples/box-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/box-side.jpg,top=${PROJECT_SOURCE_DIR}/examples/box-top.jpg"
  "03 Tall DVD box|front=${PROJECT_SOURCE_DIR}/examples/box-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/box-side.jpg,top=${PROJECT_SOURCE_DIR}/examples/box-top.jpg"
  "04 Two boxes|front=${PROJECT_SOURCE_DIR}/examples/box-front.jpg,front2=${PROJECT_SOURCE_DIR}/examples/box2-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/box-side.jpg,side2=${PROJECT_SOURCE_DIR}/examples/box2-side.jpg,top=${PROJECT_SOURCE_DIR}/examples/box-top.jpg,top2=${PROJECT_SOURCE_DIR}/examples/box2-top.jpg"
  "05 Hardcover book|front=${PROJECT_SOURCE_DIR}/examples/book-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/book-spine.jpg"
  "06 Paperback|front=${PROJECT_SOURCE_DIR}/examples/book-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/book-spine.jpg"
  "07 Book and disc|disc=${PROJECT_SOURCE_DIR}/examples/disc-label.jpg,front=${PROJECT_SOURCE_DIR}/examples/book-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/book-spine.jpg"
  "08 CD jewel case|front=${PROJECT_SOURCE_DIR}/examples/cd-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/cd-spine.jpg"
  "09 DVD keep case|front=${PROJECT_SOURCE_DIR}/examples/dvd-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/dvd-spine.jpg"
  "10 Disc|disc=${PROJECT_SOURCE_DIR}/examples/disc-label.jpg"
  "11 Jewel case with disc|disc=${PROJECT_SOURCE_DIR}/examples/disc-label.jpg,front=${PROJECT_SOURCE_DIR}/examples/cd-front.jpg,side=${PROJECT_SOURCE_DIR}/examples/cd-spine.jpg"
  "12 App tile|front=${PROJECT_SOURCE_DIR}/examples/app-tile.jpg"
  "13 Magazine|front=${PROJECT_SOURCE_DIR}/examples/magazine-front.jpg"
  "14 Two discs|disc=${PROJECT_SOURCE_DIR}/examples/disc-label.jpg,disc2=${PROJECT_SOURCE_DIR}/examples/disc2-label.jpg"
)
