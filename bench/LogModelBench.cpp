#include "shell/LogModel.h"

#include "RunBenchmarks.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <random>
#include <vector>

// The application log keeps every line of the program for as long as it runs: what a line costs
// to hold, beside its text, and what appending one costs, against the former layout of a line
// (its time and three strings of its own) and a bare list of the texts as strings.
//
// Memory is the growth of the heap (mallinfo2: small blocks and mapped ones, every thread) while
// one log takes the lines, divided by the lines, beside the text's UTF-8 bytes (as saveTo writes
// it): bytes_per_line - text_bytes = beyond_text.

namespace {

// A run on a wall of 1 500 LDMs writes about this many lines; a day of polling, a hundred times.
constexpr int kRunLines = 1600;
constexpr int kDayLines = 100 * kRunLines;
// The functions that log during a run, and the share of lines with a character beyond Latin-1
// (the minus sign of a Duv).
constexpr int kFunctions = 40;
constexpr int kWideEvery = 20;
constexpr int kRepetitions = 5;

// A line as the message handler has it: UTF-8 category and function, and its text.
struct SampleLine
{
    QByteArray category;
    QByteArray function;
    QByteArray text;
    LogModel::Severity severity;
};

// A run's lines, varied as the engine's and the devices' lines are.
const std::vector<SampleLine>& sampleLines()
{
    static const std::vector<SampleLine> lines = [] {
        std::mt19937 random(46);
        std::uniform_real_distribution<double> gain(0.5, 1.0);
        std::vector<QByteArray> functions;
        for (int i = 0; i < kFunctions; ++i)
            functions.push_back("void Calibrator::coCalibrateStep" + QByteArray::number(i) +
                                "(const CalibrationPoint&, bool)");
        std::vector<SampleLine> made;
        for (int i = 0; i < kRunLines; ++i) {
            const char* sign = i % kWideEvery == 0 ? "\u2212" : "+";
            QByteArray text;
            switch (i % 3) {
            case 0:
                text = QString::asprintf("#%-4d gains %.4f %.4f %.4f, x 0.3127 y 0.3290 Y %.2f cd/m\u00b2", i,
                                         gain(random), gain(random), gain(random), 100 * gain(random))
                           .toUtf8();
                break;
            case 1:
                text = QString::asprintf("#%-4d 6504 K, %s0.0012 Duv: converged after %d iterations", i, sign,
                                         int(10 * gain(random)))
                           .toUtf8();
                break;
            default:
                text = QByteArray("Kestra::send: PATCH /api/v1/data answered 200 in ") + QByteArray::number(i % 97) +
                       " ms";
                break;
            }
            made.push_back({"default", functions[std::size_t(i) % functions.size()], text,
                            i % 7 == 0 ? LogModel::Info : LogModel::Debug});
        }
        return made;
    }();
    return lines;
}

std::size_t heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// The line's text as the log file holds it.
double textBytesPerLine(int lines)
{
    const std::vector<SampleLine>& samples = sampleLines();
    double bytes = 0;
    for (int i = 0; i < lines; ++i)
        bytes += double(samples[std::size_t(i) % samples.size()].text.size());
    return bytes / lines;
}

// The former line: its own time, category, function and text.
struct FormerLine
{
    QDateTime time;
    QString category;
    LogModel::Severity severity;
    QString function;
    QString msg;
};

// Each holder takes a line as the message handler gives it: fresh strings every time.
struct ModelLog
{
    LogModel model;
    void append(const SampleLine& line)
    {
        model.appendEntry(QDateTime::currentDateTime(), QString::fromUtf8(line.category), line.severity,
                          QString::fromUtf8(line.function), QString::fromUtf8(line.text));
    }
};

struct FormerLog
{
    QList<FormerLine> lines;
    void append(const SampleLine& line)
    {
        lines.append(FormerLine{QDateTime::currentDateTime(), QString::fromUtf8(line.category), line.severity,
                                QString::fromUtf8(line.function), QString::fromUtf8(line.text)});
    }
};

struct TextsOnly
{
    QStringList texts;
    void append(const SampleLine& line) { texts.append(QString::fromUtf8(line.text)); }
};

template <class Log>
void fill(Log& log, int lines)
{
    const std::vector<SampleLine>& samples = sampleLines();
    for (int i = 0; i < lines; ++i)
        log.append(samples[std::size_t(i) % samples.size()]);
}

// What holding state.range(0) lines costs a log of this kind, per line.
template <class Log>
void heldBytes(benchmark::State& state)
{
    const int lines = int(state.range(0));
    (void)QDateTime::currentDateTime().toString(); // the time zone's data, read once for all
    double growth = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const std::size_t before = heapBytes();
        {
            Log log;
            fill(log, lines);
            growth += double(heapBytes() - before);
        }
    }
    const double perLine = growth / double(state.iterations()) / lines;
    const double text = textBytesPerLine(lines);
    state.counters["bytes_per_line"] = perLine;
    state.counters["text_bytes"] = text;
    state.counters["beyond_text"] = perLine - text;
    state.SetItemsProcessed(state.iterations() * lines);
}

void BM_LogModelHeldBytes(benchmark::State& state)
{
    heldBytes<ModelLog>(state);
}
void BM_FormerLinesHeldBytes(benchmark::State& state)
{
    heldBytes<FormerLog>(state);
}
void BM_TextsOnlyHeldBytes(benchmark::State& state)
{
    heldBytes<TextsOnly>(state);
}
BENCHMARK(BM_LogModelHeldBytes)->Arg(kRunLines)->Arg(kDayLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormerLinesHeldBytes)->Arg(kRunLines)->Arg(kDayLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextsOnlyHeldBytes)->Arg(kRunLines)->Arg(kDayLines)->Unit(benchmark::kMillisecond);

// The time to take a run's lines into an empty log.
template <class Log>
void appendRun(benchmark::State& state)
{
    for (auto _ : state) {
        Log log;
        fill(log, kRunLines);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kRunLines);
}

void BM_LogModelAppend(benchmark::State& state)
{
    appendRun<ModelLog>(state);
}
void BM_FormerLinesAppend(benchmark::State& state)
{
    appendRun<FormerLog>(state);
}
BENCHMARK(BM_LogModelAppend)->Unit(benchmark::kMicrosecond)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(BM_FormerLinesAppend)->Unit(benchmark::kMicrosecond)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

} // namespace

// The repetitions of the two appends take turns, so that a change of load on the machine falls
// on both alike.
int main(int argc, char** argv)
{
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = int(arguments.size());
    return runBenchmarks(count, arguments.data());
}
