# Writes one section of README.md to a text file with Windows line ends:
# from the line HEADING to the next heading of the same or a higher level,
# the heading itself left out.
#   cmake -DREADME=... -DHEADING="## ..." -DOUTPUT=... -P ReadmeSection.cmake
file(READ "${README}" readme)
string(FIND "${readme}" "\n${HEADING}\n" start)
if(start LESS 0)
  message(FATAL_ERROR "README has no section \"${HEADING}\"")
endif()
string(LENGTH "\n${HEADING}\n" skip)
math(EXPR start "${start} + ${skip}")
string(SUBSTRING "${readme}" ${start} -1 text)
string(REGEX MATCH "^#+" level "${HEADING}")
# The next heading of the same or a higher level ends the section: "\n# ",
# "\n## ", ... up to the heading's own number of "#".
string(SUBSTRING "${level}" 1 -1 deeper)
string(REGEX REPLACE "#" "#?" deeper "${deeper}")
string(REGEX MATCH "\n#${deeper} [^\n]*" next "${text}")
if(next)
  string(FIND "${text}" "${next}" end)
  string(SUBSTRING "${text}" 0 ${end} text)
endif()
string(STRIP "${text}" text)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}\r\n")
