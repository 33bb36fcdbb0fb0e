# Doxygen input filter for the public headers: the comment block that opens a header, up to
# its `#pragma once`, becomes the header's file documentation, and an indented block after
# an empty comment line (a table) is indented further so that it stays as it is written.
# Every line keeps its number.
BEGIN { opening = 1 }
opening && /^#pragma once$/ { print "/// \\file"; opening = 0; next }
opening {
    if ($0 == "//")
        table = 1
    else if (table && /^\/\/   /)
        sub(/^\/\//, "//    ")
    else
        table = 0
    sub(/^\/\//, "///")
}
{ print }
