# Copies the text file IN to OUT with CR LF line ends, as older Windows
# editors (Notepad before Windows 10 1809) show only those as line breaks.
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
