// The compiler window against fvx compile on the same source: the window
// pumps its events every 5001 characters and collects the link report, and
// must stay within 3 % of the command line's wall time.
//
//   window_compile_bench SOURCE.txt FVX [--runs N]
//
// Make the source with: compile_bench --keep FOLDER --no-repeat (it leaves
// compile_bench_<pid>.txt there). Runs alternate between the two so that a
// busy machine hurts both alike; the medians are compared.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "compiler/app/import_options.h"
#include "compiler/app/window/compiler_dialog.h"
#include "compiler/app/window/import_page.h"
#include "platform/registry.h"

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_compile_bench SOURCE.txt FVX [--runs N]\n");
    return 2;
  }
  const QString source = QString::fromLocal8Bit(argv[1]);
  const QString fvx = QString::fromLocal8Bit(argv[2]);
  int runs = 3;
  if (argc == 5 && std::string(argv[3]) == "--runs") runs = std::max(1, std::atoi(argv[4]));

  QTemporaryDir home;
  qputenv("FVX_HOME", home.path().toLocal8Bit());
  qputenv("FVX_REGISTRY", home.filePath("registry.db").toLocal8Bit());
  fvx::platform::Registry registry(home.filePath("registry.db").toStdString());
  constexpr auto kRoot = fvx::platform::RegistryRoot::kLocalMachine;
  // Same work on both sides: no log file, automatic sort, no questions.
  registry.WriteDword(kRoot, fvx::compiler::kImportOptionsKey, "ProduceLog", 0);
  registry.WriteDword(kRoot, fvx::compiler::kImportOptionsKey, "SortType", 2);

  fvx::compiler::window::CCompilerDlg dialog(registry, nullptr);
  dialog.import_page()->source()->setText(source);
  dialog.show();

  // Wall time on a busy machine says as much about the neighbours as about
  // the compile, so the CPU time of both sides is reported too.
  std::vector<double> window_times, command_times, window_cpu, command_cpu;
  for (int run = 0; run < runs; ++run) {
    QElapsedTimer clock;
    clock.start();
    const double children_before = CpuSeconds(RUSAGE_CHILDREN);
    QProcess command;
    command.setStandardOutputFile(QProcess::nullDevice());
    command.start(fvx, {"compile", "--no-log", "--sort=yes", source});
    if (!command.waitForFinished(-1) || command.exitCode() != 0) {
      std::fprintf(stderr, "fvx compile failed\n");
      return 1;
    }
    command_times.push_back(clock.nsecsElapsed() / 1e9);
    command_cpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - children_before);

    const double self_before = CpuSeconds(RUSAGE_SELF);
    clock.restart();
    if (!dialog.Compile()) {
      std::fprintf(stderr, "the window's compile failed\n");
      return 1;
    }
    window_times.push_back(clock.nsecsElapsed() / 1e9);
    window_cpu.push_back(CpuSeconds(RUSAGE_SELF) - self_before);
    std::printf("run %d: fvx compile %.2f s (CPU %.2f s), window %.2f s (CPU %.2f s)\n", run + 1,
                command_times.back(), command_cpu.back(), window_times.back(), window_cpu.back());
    std::fflush(stdout);
  }
  const double command = Median(command_times);
  const double window = Median(window_times);
  std::printf("median wall: fvx compile %.2f s, window %.2f s: window %+.1f %%\n", command, window,
              100.0 * (window - command) / command);
  const double command_c = Median(command_cpu);
  const double window_c = Median(window_cpu);
  std::printf("median CPU:  fvx compile %.2f s, window %.2f s: window %+.1f %%\n", command_c,
              window_c, 100.0 * (window_c - command_c) / command_c);
  return 0;
}
