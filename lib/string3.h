// In-place text transforms: escape sequences, tabs and line folding.
#pragma once

char *strDecode_escape(char *s);
char *strEncode_escape(char *s);
char *strUntabify(char *s, int tab);
char *strTabify(char *s, int tab);
char *strUnfold(char *s);
char *strFold(char *s, int width);
