#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
    EXPECT_EQ(data.Size() + data.Acumulado() + data.AcumuladosEnteros() + data.TStart() + data.TAcumStart(),
              0.0);
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
    // The writer goes on until the reader has done its reads, so that the two
    // overlap however the threads are scheduled on a busy machine.
    std::thread writer([&] {
        for (std::uint64_t i = 0; !stop && i < 100'000'000; ++i) {
            data.SetArchivoDown(i % 2 ? first : second);
            data.SetArchProgreso((i % 2 ? 1ull : 3ull) << 33);
            data.SetAcumulado(static_cast<double>(i));
            data.SetCancelado(i % 2);
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (data.ArchProgreso() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    int torn = 0;
    for (int reads = 0; reads < 20000; ++reads) {
        const std::string name = data.ArchivoDown();
        const std::uint64_t progress = data.ArchProgreso();
        torn += !(name == first || name == second) || !(progress == 1ull << 33 || progress == 3ull << 33);
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
}
