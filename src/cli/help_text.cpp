#include "cli/help_text.h"

namespace tarnic::cli {

std::string helpText() {
    return "Usage: tarnic FILE\n"
           "       tarnic --batch [OPTIONS] PATH...\n"
           "       tarnic --verify [--json] PATH...\n"
           "       tarnic --info [--json] PATH...\n"
           "       tarnic --help | --version\n"
           "\n"
           "Converts .dm3 demos to .dm_48. FILE is converted into FILE.dm_48 beside it.\n"
           "With --batch, every file named and every .dm3 file under every folder named is\n"
#if TARNIC_PACKS
           "converted; a zip or tar pack of demos becomes a converted pack beside it\n"
           "(pack.zip -> pack.dm_48.zip). --verify and --info take every .dm3 and .dm_48\n"
           "file under each folder named, and every such member of each pack named or met.\n"
#else
           "converted. --verify and --info take every .dm3 and .dm_48 file under each folder\n"
           "named.\n"
#endif
           "\n"
           "Options:\n"
           "  --batch             convert many files and folders (recursively)\n"
           "  --output-dir DIR    write outputs under DIR, mirroring the folders named\n"
           "  --jobs N            run N conversions at once (default: one per usable core)\n"
           "  --skip-existing     leave inputs whose output already exists\n"
           "  --verbose           print each input's diagnostics after its line\n"
           "  --verify            check that each demo (.dm3 or .dm_48) is well-formed;\n"
           "                      with --batch, check each output once written\n"
           "  --info              summarise each demo (.dm3 or .dm_48)\n"
           "  --json              with --verify or --info: one JSON document on standard output\n"
           "  -h, --help          print this text and exit\n"
           "  --version           print the version and exit\n"
           "\n"
           "Exit status: 0 when every input was converted or skipped, 1 when any failed,\n"
           "2 for a usage error. --verify: 0 when every demo is well-formed, else 1;\n"
           "--info: 0 when every demo was read, else 1; both 2 for a name that is not a\n"
           "demo's.\n";
}

std::string versionLine() { return "tarnic " TARNIC_VERSION "\n"; }

}  // namespace tarnic::cli
