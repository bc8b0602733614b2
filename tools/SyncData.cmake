# Brings the data beside the executables up to date from the repository's data/ and the previews
# just rendered: cmake -DDIR=<exe folder> -DDATA=<data/> -DPREVIEWS=<rendered previews>
#   -DLIST=<tools/previews.txt> -P SyncData.cmake
# The folders are replaced, so a template deleted or renamed in data/ does not linger, and Pics
# holds exactly one preview per listed template. The about box link points at this copy's
# documentation page.
foreach(folder Templates Pics custom Data Docs)
  file(REMOVE_RECURSE "${DIR}/${folder}")
endforeach()
file(COPY "${DATA}/" DESTINATION "${DIR}")
file(REMOVE_RECURSE "${DIR}/Pics")
file(MAKE_DIRECTORY "${DIR}/Pics")
file(STRINGS "${LIST}" lines)
foreach(line IN LISTS lines)
  string(FIND "${line}" "|" bar)
  string(SUBSTRING "${line}" 0 ${bar} name)
  file(COPY "${PREVIEWS}/${name}.jpg" DESTINATION "${DIR}/Pics")
endforeach()
file(WRITE "${DIR}/Data/LinkAdr.dat" "file://${DIR}/Docs/index.html\n")
