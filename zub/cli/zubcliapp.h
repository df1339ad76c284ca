// The command-line front end as a function, so that tests can run it in-process.
#pragma once

// Exit status: 0 every video processed, 1 one failed, 2 usage error.
int ZubCliMain(int argc, char** argv);
