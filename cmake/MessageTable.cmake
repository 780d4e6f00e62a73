# Makes the service's message table source (.mc) from the status codes' header, so the codes
# and their texts are written once.
#   cmake -DHEADER=StatusCodes.h -DOUTPUT=QmHidSrvMsg.mc -P MessageTable.cmake
file(STRINGS ${HEADER} lines)
set(values "")
set(rows "")
foreach(line IN LISTS lines)
  if(line MATCHES "^inline constexpr uint32_t (kStatus[A-Za-z]+) = (0x[0-9A-Fa-f]+);$")
    set(value_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  elseif(line MATCHES "^    {(kStatus[A-Za-z]+), \"([A-Z_]+)\", \"([^\"]+)\"},$")
    list(APPEND rows "${CMAKE_MATCH_1}|${CMAKE_MATCH_2}|${CMAKE_MATCH_3}")
  endif()
endforeach()
if(rows STREQUAL "")
  message(FATAL_ERROR "${HEADER}: no status rows")
endif()

set(nl "\r\n")
string(CONCAT mc ";// Event log messages of the tablet service, made from StatusCodes.h.${nl}"
  "MessageIdTypedef=DWORD${nl}"
  "SeverityNames=(Success=0x0:STATUS_SEVERITY_SUCCESS${nl}"
  "               Informational=0x1:STATUS_SEVERITY_INFORMATIONAL${nl}"
  "               Warning=0x2:STATUS_SEVERITY_WARNING${nl}"
  "               Error=0x3:STATUS_SEVERITY_ERROR)${nl}"
  "FacilityNames=(QmHid=0x5:FACILITY_QMHID)${nl}"
  "LanguageNames=(English=0x409:MSG00409)${nl}")
set(severities Success Informational Warning Error)
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 name)
  list(GET fields 1 symbol)
  list(GET fields 2 text)
  if(NOT DEFINED value_${name})
    message(FATAL_ERROR "${HEADER}: ${name} has no value")
  endif()
  math(EXPR code "${value_${name}}")
  math(EXPR facility "(${code} >> 16) & 0xFFF")
  if(NOT facility EQUAL 5)
    message(FATAL_ERROR "${HEADER}: ${name} is not of the QmHid facility")
  endif()
  math(EXPR severity "(${code} >> 30) & 3")
  list(GET severities ${severity} severity_name)
  math(EXPR id "${code} & 0xFFFF" OUTPUT_FORMAT HEXADECIMAL)
  string(APPEND mc "${nl}MessageId=${id}${nl}Severity=${severity_name}${nl}Facility=QmHid${nl}"
    "SymbolicName=${symbol}${nl}Language=English${nl}${text}${nl}.${nl}")
endforeach()
file(WRITE ${OUTPUT}.new "${mc}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
