// Watches the registry store while another process publishes the policy. It polls
// VELDADATA_Changed; the moment it reads "1" it checks that every value the flag
// announces is already there. Prints "ok <polls-in-progress>" or "early <name>" and
// exits 0 or 1 (2 on timeout). Creates the file named by its argument once it polls.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "settings/settings_store.h"

int main(int argc, char** argv) {
    using namespace settings;
    const int announced[] = {kKeyNormalDataFile, kKeyLeisureDataFile, kKeyNoneNotFile,
                             kKeyNoneYesFile,    kKeyNormalContent,   kKeyLeisureContent,
                             kKeyNormalWeb,      kKeyLeisureWeb,      kKeyNormalVeldaYes,
                             kKeyLeisureVeldaYes, kKeyAmStart,        kKeyAmEnd,
                             kKeyPmStart,        kKeyPmEnd,           kKeyDaysOfOperation,
                             kKeyLogSites,       kKeyRedirectedSite};
    ReadSetting(kKeyDataChanged);  // opens (and if need be creates) the store
    if (argc > 1) std::ofstream(argv[1]) << "ready\n";

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    long inProgress = 0;  // polls that saw some values but not yet the flag
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadSetting(kKeyDataChanged) == "1") {
            for (int id : announced) {
                if (ReadSetting(id).empty()) {
                    std::printf("early %d\n", id);
                    return 1;
                }
            }
            std::printf("ok %ld\n", inProgress);
            return 0;
        }
        if (!ReadSetting(kKeyNormalDataFile).empty()) ++inProgress;
    }
    std::printf("timeout\n");
    return 2;
}
