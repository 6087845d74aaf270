// Command-line front end of the taviron program.
#pragma once

void print_help();
void print_version();
