// The command line of imgsmith-gui and the start-up decisions that depend
// only on it (debug switches, copy buffer size).
#pragma once

#include <QString>
#include <QStringList>

// Exit statuses of a start that ends during the argument passes. A script
// driving an unattended install must be able to tell a rejected command line
// from a request for help.
enum CommandLineExit {
    kContinueStartup = -1,
    kExitOk = 0,          // -h, -v, -l
    kExitStartupFailure = 1, // the unattended-install configuration could not be written
    kExitUsageError = 2,  // every command-line error
};

// What the passes decided beyond the process-wide settings.
struct CommandLineRequest
{
    QString installPath;           // -i, as an absolute system path
    bool autoExit = false;         // --auto-exit
    bool installConfNeeded = false; // -i or --auto-exit: generate "/tmp/imgsmith.conf"
};

// Reads "debug_imgsmith" then "imgsmith_debug" and sets isDebugMode and
// gLCD4USBDebug.
void queue_debug_env();

// `onboardFlashType` is the storage text of the current board ("eMMC Flash"
// or "UFS Device").
void printUsage(const QString &onboardFlashType);
void printVersion();

// Runs the pre-scan, the install pass and the remaining-options pass over
// `args` (element 0 is the program), removing what they consume and setting
// the process-wide settings. `listBoards` prints the supported boards for -l.
// Returns kContinueStartup, or the status the process is to end with after
// the message has been printed.
int runArgumentPasses(QStringList &args, CommandLineRequest &request,
                      const QString &onboardFlashType, void (*listBoards)());

// Chunk size of the streamed copy for a SoC: the low-memory Allwinner parts
// get 8 MiB, everything else 64 MiB.
int copyBufferSizeForCpu(const QString &cpuName);
// Sets the copy memory of every install and back-up of this process
// (BUFFER_SIZE) and logs it. Every front-end sizes it here, once the board is
// known: from copyBufferSizeForCpu() unless the user chose a size.
void setCopyBufferSize(int bytes);
