#include "shell/LogModel.h"

#include <benchmark/benchmark.h>

// The application log receives every message of the program: appending must stay cheap.
static void BM_LogModelAppend(benchmark::State& state)
{
    LogModel model;
    const QDateTime now = QDateTime::currentDateTime();
    for (auto _ : state)
        model.appendEntry(now, QStringLiteral("category"), LogModel::Debug, QStringLiteral("function"),
                          QStringLiteral("a typical log line of moderate length"));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogModelAppend);
