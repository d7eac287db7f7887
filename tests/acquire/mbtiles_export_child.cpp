// Packs a folder as the window would and stops dead once half of it is in:
// the test kills it there, as a user or a crash would.
#include "acquire/MbtilesExport.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    const std::atomic_bool cancel{false};
    bool told = false;
    MbtilesExport::run(MbtilesExport::Request{QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), {},
                                              {}, {}, false},
                       cancel, [&](qint64 done, qint64 total) {
                           if (told || done * 2 < total)
                               return;
                           told = true;
                           std::puts("half");
                           std::fflush(stdout);
                           std::getchar(); // waits for the kill
                       });
    return 1;
}
