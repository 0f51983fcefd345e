# Renames a man page that help2man made from a subcommand's help (help2man
# titles it after the program): cmake -DPAGE=tarvek-store -DFILE=... -P this.
file(READ ${FILE} _text)
string(TOUPPER ${PAGE} _title)
string(REGEX REPLACE "\n\\.TH [^ ]+ " "\n.TH ${_title} " _text "${_text}")
string(REGEX REPLACE "\n\\.SH NAME\n[^ ]+ " "\n.SH NAME\n${PAGE} " _text "${_text}")
file(WRITE ${FILE} "${_text}")
