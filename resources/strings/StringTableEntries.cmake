# Writes the STRINGTABLE lines of a resource script ("    123 "text"") as C++ table
# entries: cmake -DSCRIPT=talvenor-live.rc -DOUTPUT=StringTableEntries.inc -P this
file(STRINGS ${SCRIPT} _lines REGEX "^[ \t]+[0-9]+[ \t]+\".*\"[ \t]*$")
set(_entries "")
foreach(_line IN LISTS _lines)
    string(REGEX REPLACE "^[ \t]+([0-9]+)[ \t]+\"(.*)\"[ \t]*$" "\\1" _id "${_line}")
    string(REGEX REPLACE "^[ \t]+([0-9]+)[ \t]+\"(.*)\"[ \t]*$" "\\2" _text "${_line}")
    # A quote is doubled in a resource script and escaped in C++; other escapes agree.
    string(REPLACE "\"\"" "\\\"" _text "${_text}")
    string(APPEND _entries "    {${_id}, \"${_text}\"},\n")
endforeach()
file(WRITE ${OUTPUT}.new "${_entries}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
