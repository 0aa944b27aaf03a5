// duze_limits.h - every limit of the tool and its libraries in one place, each with its reason.
// The tool and the libraries share only what the header between them fixes; where a limit of one
// side follows from the other's (the line length), both read it here.
#ifndef DUZE_LIMITS_H
#define DUZE_LIMITS_H

#include <stddef.h>
#include <stdint.h>

// Lines -----------------------------------------------------------------------------------------

// A line the console reads fills a caller's buffer of this many bytes: 63 characters and the end.
// The interface fixes it (OsaConsoleGetStr writes into a buffer of this size), so the tool's line
// buffers and the library's line reads must agree.
const size_t kDuzeLineSize = 64;
// The longest log file name /L takes: Windows' MAX_PATH less its terminating byte, the same on
// every host, so that a script runs the same everywhere.
#define DUZE_LOG_NAME_MAX 259

// Output ----------------------------------------------------------------------------------------

// Text held before it is written: the tool's log and the library's console each keep one block.
// 64 KiB is a Linux pipe's whole buffer, so a full block goes to a pipe in one write, and large
// enough that a failing memory test's millions of lines cost a write per block, not per line.
const size_t kDuzeLogBlock = 64 * 1024;
const size_t kOsaHeldBlock = 64 * 1024;

// Waits -----------------------------------------------------------------------------------------

// A console write that waits (output stopped, a pipe's reader slow) is woken this often to see an
// interrupt that came meanwhile: short enough that Ctrl-C feels at once.
const int kOsaStallMs = 50;
// The bytes of one key's escape sequence come from a terminal together; a byte not there within
// this time belongs to the next key, and the Escape stood alone. Long enough for a remote session.
const int kOsaKeySequenceMs = 50;
// Once an interrupt ends the run, a console that takes no text for this long is left: the run
// ends rather than hang on a terminal stopped with Ctrl-S or a pipe nobody reads.
const int kOsaEndingPatienceMs = 300;
// A terminal that reads nothing is hung up, and the kernel sends SIGHUP a moment later: the run
// waits this long for it, so that it ends as a hang-up rather than as a failed read.
const int kOsaHangUpWaitMs = 1000;

// The simulated library ---------------------------------------------------------------------------

// Boards of one type a run may have (KYNSIM_BOARDS): the maker's driver numbers at most 16.
const uint32_t kSimMaxBoards = 16;
// Every device that can exist then: 26 types, each with at most kSimMaxBoards boards and their
// bridges, fits. Handles are counted from the first one (KYNSIM_HANDLES) up, so that first one
// leaves room for all of them below INT32_MAX.
const size_t kSimMaxDevices = 1024;

// Register maps -----------------------------------------------------------------------------------

// Elements nested in a map file: the XML parser recurses once a level, so a file of a million
// nested elements would overflow the stack. A real SVD file nests about 10 deep, clusters (at most
// 16 of them) adding one each: 64 leaves room and is nothing to the stack.
const size_t kMapDepthMax = 64;
// What a map may expand to (dim multiplies): the largest real SVD files hold about 9,000 registers
// and 60,000 fields; ten times that still reads in well under a second and a few hundred MiB,
// where nested dims of 65,536 would take minutes and gigabytes. Clusters count among the registers,
// so that empty nested arrays cannot loop for ever either; values count among the fields.
const size_t kMapRegistersMax = 100000;
const size_t kMapFieldsMax = 1000000;
// How often, in registers read, a long map's reading lets an interrupt end the run.
const size_t kMapPollEvery = 4096;

// Scripts --------------------------------------------------------------------------------------------

// A batch line longer than this is no operation (the longest, a register's name with a field and a
// 64-bit value, is a few hundred characters); the rest of it is read and dropped, not kept.
const size_t kBatchLineMax = 4096;
// Bytes of a line too long that are read and dropped to find its end: a line that has none within
// them (a device of zeros) ends the batch rather than hold it for ever.
const size_t kBatchDropMax = 1u << 20;
// A sleep waits at most a day: a longer one is a typing mistake, not a bench's pause.
const uint32_t kSleepMaxMs = 86400000u;
// The memory test job's passes: a million passes over even one word is days of bus traffic.
const uint32_t kMemtestPassesMax = 1000000u;
// Boards of one type --list tries, from number 0: the maker's driver numbers at most 16 of a type.
const uint32_t kListedBoardsMax = 16;
// A text attribute longer than this is not shown: the library's own texts are a line at most.
const uint32_t kAttributeTextMax = 256;

// Board images -----------------------------------------------------------------------------------

// A configuration space is 4 KiB at most (PCI Express); a config file longer than that is no
// device's.
const size_t kConfigMax = 4096;
// A manifest is a few kilobytes, an unread-word list of a large map included; a larger one is no
// image's, and is not read whole.
const size_t kManifestMax = 1u << 20;
// A manifest nests three levels (its BARs' unread words); 64 leaves room, and keeps a value nested
// 100,000 deep from being shown or freed by recursion.
const size_t kManifestDepthMax = 64;
// An image holds a manifest, config.txt and one device's few files: more entries is no image of ours.
const int kImageEntriesMax = 64;
// Entries of $TMPDIR looked at for scratch directories a killed run left: a shared /tmp may hold
// many, and the cleaning must not make a run's start slow.
const int kScratchEntriesMax = 100000;
// Words of a BAR a save leaves unread for the map: more than a real map's registers.
const size_t kUnreadWordsMax = 100000;
// Registers a comparison shows: one that differs everywhere still ends; past this, only the count.
const uint64_t kShownMax = 10000;

// The PCI library ---------------------------------------------------------------------------------

// Devices one selection may match: a PCI domain holds at most 65,536 functions (256 buses of 32
// devices of 8), far more than any machine has; each costs a pointer, made room for while matching.
const size_t kPciMaxMatches = 65536;
// BARs mapped at once under the SIGBUS guard, which a signal handler searches: a run opens one
// board; the rest is room for a library used by other programs.
const int kPciMaxGuarded = 8;
// A failure's own text: what a caller's 256-byte buffer holds.
const size_t kPciTextSize = 256;

#endif
