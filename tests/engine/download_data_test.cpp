#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "engine/download_data.h"

TEST(DownloadData, FreshRecordIsAllZero)
{
    const TDownloadData data;
    EXPECT_EQ(data.Operacion(), TWebOperation::twoConfiguration);
    EXPECT_FALSE(data.Result() || data.Terminado() || data.Restart() || data.Cancelado()
                 || data.MostrarProgreso() || data.Redirect());
    EXPECT_EQ(data.ArchProgreso() + data.ArchProgresoMax(), 0u);
    EXPECT_EQ(data.Total() + data.Number() + data.VersionLocal(), 0);
    EXPECT_EQ(data.Size() + data.Acumulado() + data.AcumuladosEnteros() + data.TStart() + data.TAcumStart(), 0.0);
    EXPECT_TRUE((data.Mensaje() + data.CarpetaOrigen() + data.CarpetaDestino() + data.ArchSetup()
                 + data.ArchIniLocal() + data.ArchIniRemoto() + data.ArchivoDown() + data.ArchivoHash()
                 + data.ArchivoDownloader() + data.CarpetaDownloader() + data.Line1() + data.Link()
                 + data.InfoLink() + data.TotalFiles() + data.InfoSize() + data.End1() + data.End2()
                 + data.StatusText() + data.URLRedirected() + data.DownloadingURL() + data.LastCacheURL())
                    .empty());
}

TEST(DownloadData, ByteFiguresHoldSizesBeyondFourGiB)
{
    TDownloadData data;
    const std::uint64_t fiveGiB = 5ull << 30;
    data.SetArchProgresoMax(fiveGiB);
    data.SetArchProgreso(fiveGiB - 1);
    EXPECT_EQ(data.ArchProgresoMax(), fiveGiB);
    EXPECT_EQ(data.ArchProgreso(), fiveGiB - 1);
}

// One thread writes while another reads: under ThreadSanitizer this shows any
// unguarded field; without it, a torn text shows as a mix of two values.
TEST(DownloadData, ReaderNeverSeesHalfWrittenValues)
{
    TDownloadData data;
    const std::string first(1000, 'a');
    const std::string second(3000, 'b');
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000 && !stop; ++i) {
            data.SetArchivoDown(i % 2 ? first : second);
            data.SetArchProgreso((i % 2 ? 1ull : 3ull) << 33);
            data.SetAcumulado(i);
            data.SetCancelado(i % 2);
        }
        data.SetTerminado(true);
    });
    int reads = 0;
    while (!data.Terminado() && reads < 1000000) {
        const std::string name = data.ArchivoDown();
        ASSERT_TRUE(name.empty() || name == first || name == second);
        const std::uint64_t progress = data.ArchProgreso();
        ASSERT_TRUE(progress == 0 || progress == 1ull << 33 || progress == 3ull << 33);
        ++reads;
    }
    stop = true;
    writer.join();
    EXPECT_GT(reads, 0);
}
