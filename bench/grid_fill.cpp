// bench_grid_fill: how long the console's viewer path takes for a large day: a record file of N
// records (nine TAB values each, CR LF) read into a TDelimTable, every record put into a
// TKStringGrid at row 0 (the viewer's way), then the grid sorted by one key and by two. Runs on
// the headless widget set. Usage: bench_grid_fill [records] (default 100000).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/controls/delimtable.h"
#include "console/controls/kstringgrid.h"
#include "platform/ui/core/application.h"
#include "platform/ui/testkit/testkit.h"
#include "tests/support/files.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string RecordFile(int records) {
  std::string text =
      "Date\tOperation\tHostName\tComment\tIPAddress\tUserName\tDriveName\tDeviceName\tFileName\r"
      "\n";
  for (int i = 0; i < records; ++i) {
    const int s = i % 86400;
    char date[32];
    std::snprintf(date, sizeof date, "2026/12/10 %02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    text += std::string(date) + "\tFileCopy\tPC-" + std::to_string(i % 50) + "\tcopied " +
            std::to_string(i) + "\t192.168.1." + std::to_string(i % 250) + "\tuser" +
            std::to_string(i % 40) + "\tC:\tHDD\tC:\\Users\\file" + std::to_string(i) + ".txt\r\n";
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  testsupport::TempDir dir("bench-grid");
  const std::string path = dir.Write("20261210.log", RecordFile(records));

  auto t = std::chrono::steady_clock::now();
  TDelimTable table;
  table.Separator = "\t";
  table.QuoteChar = "";
  if (!table.LoadFromFile(path)) return 1;
  std::printf("load   %8d records  %7.3f s\n", table.RecordCount(), Seconds(t));

  uitest::TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  auto* grid = new TKStringGrid(form);
  grid->SetParent(form);
  grid->AutoSort = false;
  for (int i = 0; i < table.FieldNames().Count(); ++i) {
    TKGridColumn* column = grid->Columns()->Add();
    column->SetName(table.FieldNames()[i]);
  }
  t = std::chrono::steady_clock::now();
  for (bool more = table.First(); more; more = table.Next()) {
    grid->InsertRow(0);
    for (int i = 0; i < table.FieldNames().Count(); ++i) {
      const std::string& name = table.FieldNames()[i];
      grid->Columns()->FindByName(name)->SetRowText(0, table.GetFieldValue(name));
    }
  }
  std::printf("fill   %8d rows     %7.3f s\n", grid->RowCount(), Seconds(t));

  t = std::chrono::steady_clock::now();
  grid->Columns()->FindByName("HostName")->SetSortOrder(csAsc);
  grid->Sort();
  std::printf("sort 1 key            %7.3f s\n", Seconds(t));
  t = std::chrono::steady_clock::now();
  grid->Columns()->FindByName("Date")->SetSortOrder(csDsc);
  grid->Sort();
  std::printf("sort 2 keys           %7.3f s\n", Seconds(t));
  return 0;
}
