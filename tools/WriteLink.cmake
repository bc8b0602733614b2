# Writes the about box link (Data/LinkAdr.dat) to point at the documentation page beside the
# program: cmake -DDIR=<folder of the executable> -P WriteLink.cmake
file(WRITE "${DIR}/Data/LinkAdr.dat" "file://${DIR}/Docs/index.html\n")
