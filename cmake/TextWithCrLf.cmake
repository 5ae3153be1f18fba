# Copies a text file with CR LF line breaks, as Windows' own editor shows it:
#   cmake -DINPUT=README.md -DOUTPUT=README.txt -P TextWithCrLf.cmake
file(READ "${INPUT}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
