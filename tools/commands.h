// The subcommands of `qar`. Each returns the process exit status.
#pragma once

int CmdPack(int argc, char** argv);
int CmdSfx(int argc, char** argv);
int CmdList(int argc, char** argv);
int CmdTest(int argc, char** argv);
int CmdExtract(int argc, char** argv);
