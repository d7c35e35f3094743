# Turns a text file into a C++ source that defines it as one character array:
#   cmake -DINPUT=licence.txt -DOUTPUT=licence_text.cpp -DSYMBOL=licenceText -P embed-text.cmake
# The bytes are written as hexadecimal values, so nothing in the text can
# upset the compiler.
file(READ "${INPUT}" bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," values "${bytes}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" values "${values}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT}; edit that file instead.\n"
  "extern const char ${SYMBOL}[];\n"
  "const char ${SYMBOL}[] = {\n${values}0x00};\n")
