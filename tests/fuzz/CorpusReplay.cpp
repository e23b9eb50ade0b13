// Without libFuzzer, a fuzz target runs each file of the folders (or the files) it is given once.

#include "FuzzCheck.h"

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

int main(int argc, char **argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const QString place = QString::fromLocal8Bit(argv[i]);
        QStringList files;
        if (QFileInfo(place).isDir()) {
            QDirIterator walk(place, QDir::Files, QDirIterator::Subdirectories);
            while (walk.hasNext()) {
                files.append(walk.next());
            }
        } else {
            files.append(place);
        }
        files.sort();
        for (const QString &path : files) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
                return 2;
            }
            const QByteArray input = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()),
                                   size_t(input.size()));
            ++inputs;
        }
    }
    if (inputs == 0) {
        std::fprintf(stderr, "no inputs\n");
        return 2;
    }
    std::printf("%d inputs ran\n", inputs);
    return 0;
}
