// Speed of the evaluation's reply lookups over a transcript filled to its
// bound by a flood. Run by bench/transcript.sh; fails when a lookup chain
// takes longer than the limit (ms, first argument, default 1000; bench/transcript.sh passes 2000).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DialogRig.h"

int main(int argc, char** argv) {
  const double limitMs = argc > 1 ? std::atof(argv[1]) : 1000.0;
  int status = 0;
  for (const char* piece : {"x", "x ", "\r\n", "ATI5\r\n"}) {
    DialogRig rig;
    rig.Open();
    rig.host.DestroyTimers();
    std::string flood;
    while (flood.size() < TMemo::kMaxText) flood += piece;
    rig.Receive(flood);

    auto start = std::chrono::steady_clock::now();
    TForm1& form = *rig.form;
    std::int32_t i = form.SearchVer(0, "ATI5");
    std::int32_t j = form.SearchVer(i + 1, "ATH3");
    form.SearchVer(form.SearchVer(j + 1, "AT&V5") + 1, "ATI9");
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    bool ok = ms <= limitMs;
    std::printf("%-4s flood of %zu bytes, %d lines: evaluation lookups %.1f ms\n",
                ok ? "ok" : "SLOW", form.Memo1.Text().size(), form.Memo1.LineCount(), ms);
    if (!ok) status = 1;
  }
  return status;
}
