// Reading an event table: the header assigns every column a role (a
// standard column, a covariate or an ignored one); each record is then
// checked field by field, its defaults filled in (EVID and MDV implied when
// their columns are absent), and checked against the records of its ID
// before it (time never going backwards).
#include "input/event_table.h"

#include <cmath>
#include <unordered_map>

#include "input/csv_reader.h"
#include "input/table_fields.h"

namespace identify {

namespace {

constexpr std::array<const char*, kEventColumnCount> kNames = {
    "ID",   "TIME", "DV", "AMT",  "EVID", "MDV", "CMT",
    "RATE", "DUR",  "II", "ADDL", "SS",   "DVID"};

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Roles of columns beyond the standard ones.
constexpr int kIgnored = -1;
constexpr int kCovariate = kEventColumnCount;  // + covariate index

class EventReader {
 public:
  EventReader(const TextFile& file, const EventColumnNames& names)
      : file_(file), names_(names) {}

  EventTable run() {
    read_csv(file_, table_delimiter(file_),
             [this](const CsvRecord& record) { take(record); });
    if (roles_.empty()) {
      throw input_error(file_.end(), "a header row", "end of file");
    }
    return std::move(table_);
  }

 private:
  [[noreturn]] void fail(std::size_t offset, const std::string& expected,
                         const std::string& found) const {
    throw input_error(file_.pos(offset), expected, found);
  }

  void take(const CsvRecord& record) {
    bool blank = true;
    for (const CsvField& f : record.fields)
      blank &= f.text.empty() && !f.quoted;
    if (blank) return;
    if (roles_.empty()) {
      read_header(record);
    } else {
      read_row(record);
    }
  }

  int role_of(const CsvField& f) const {
    const std::string name = upper(f.text);
    for (int c = 0; c < kEventColumnCount; ++c) {
      if (name == kNames[c]) return c;
    }
    for (std::size_t k = 0; k < names_.covariates.size(); ++k) {
      if (name == upper(names_.covariates[k])) {
        return kCovariate + static_cast<int>(k);
      }
    }
    for (const std::string& ignored : names_.ignored) {
      if (name == upper(ignored)) return kIgnored;
    }
    fail(f.offset,
         "a column ID, TIME, DV, AMT, EVID, MDV, CMT, RATE, DUR, II, ADDL, SS "
         "or DVID, a declared covariate or an ignored column",
         found_field(f));
  }

  void read_header(const CsvRecord& header) {
    std::vector<bool> seen(kCovariate + names_.covariates.size(), false);
    for (const CsvField& f : header.fields) {
      const int role = role_of(f);
      if (role != kIgnored) {
        if (seen[role])
          fail(f.offset, "a column not named before", quote_text(f.text));
        seen[role] = true;
        if (role < kEventColumnCount) table_.present[role] = true;
      }
      roles_.push_back(role);
    }
    const std::size_t at = header.fields.front().offset;
    for (const EventColumn c : {kEventId, kEventTime}) {
      if (!seen[c]) fail(at, std::string("a column ") + kNames[c], "none");
    }
    if (!seen[kEventDv] && !seen[kEventAmt])
      fail(at, "a column DV or AMT", "none");
    for (std::size_t k = 0; k < names_.covariates.size(); ++k) {
      if (!seen[kCovariate + k]) {
        fail(at, "a column " + names_.covariates[k] + " (a declared covariate)",
             "none");
      }
    }
  }

  // A whole number in [low, high] (`what` names it); a missing field is
  // `otherwise`.
  int whole(const CsvField& f, const std::string& what, int low, int high,
            int otherwise) const {
    if (is_missing_value(f.text)) return otherwise;
    const double v = field_number(file_, f);
    if (v != std::trunc(v) || v < low || v > high)
      fail(f.offset, what, quote_text(f.text));
    return static_cast<int>(v);
  }
  double nonnegative(const CsvField& f, const std::string& what) const {
    if (is_missing_value(f.text)) return 0.0;
    return field_nonnegative(file_, f, what);
  }

  void read_row(const CsvRecord& row) {
    if (row.fields.size() != roles_.size()) {
      const std::size_t at = row.fields.size() > roles_.size()
                                 ? row.fields[roles_.size()].offset
                                 : row.end;
      fail(at, std::to_string(roles_.size()) + " fields as in the header",
           std::to_string(row.fields.size()));
    }
    EventRecord r;
    r.covariates.resize(names_.covariates.size());
    r.covariate_at.resize(names_.covariates.size());
    std::array<const CsvField*, kEventColumnCount> field{};
    for (std::size_t k = 0; k < roles_.size(); ++k) {
      const CsvField& f = row.fields[k];
      if (roles_[k] >= kCovariate) {
        const std::size_t c = roles_[k] - kCovariate;
        if (is_missing_value(f.text)) {
          fail(f.offset, "a value of covariate " + names_.covariates[c],
               found_field(f));
        }
        r.covariates[c] = field_number(file_, f);
        r.covariate_at[c] = f.offset;
      } else if (roles_[k] != kIgnored) {
        field[roles_[k]] = &f;
        r.at[roles_[k]] = f.offset;
      }
    }
    read_fields(field, r);
    check_order(*field[kEventTime], r);
    table_.records.push_back(std::move(r));
  }

  void read_fields(const std::array<const CsvField*, kEventColumnCount>& field,
                   EventRecord& r) const {
    const CsvField& id = *field[kEventId];
    if (id.text.empty()) fail(id.offset, "an ID", found_field(id));
    r.id = std::string(id.text);
    r.time = field_nonnegative(file_, *field[kEventTime], "a TIME");
    if (field[kEventDv] && !is_missing_value(field[kEventDv]->text)) {
      r.dv = field_number(file_, *field[kEventDv]);
    }
    if (field[kEventAmt]) r.amount = nonnegative(*field[kEventAmt], "an AMT");
    if (field[kEventRate]) read_rate(*field[kEventRate], r);
    if (field[kEventDur]) r.duration = nonnegative(*field[kEventDur], "a DUR");
    if (field[kEventIi]) r.interval = nonnegative(*field[kEventIi], "an II");
    if (field[kEventAddl]) {
      r.additional =
          whole(*field[kEventAddl], "an ADDL: a whole number from 0 to 100000",
                0, 100000, 0);
    }
    if (field[kEventSs]) {
      r.steady_state = whole(*field[kEventSs], "an SS 0, 1 or 2", 0, 2, 0);
    }
    if (field[kEventCmt] && !is_missing_value(field[kEventCmt]->text)) {
      r.cmt = std::string(field[kEventCmt]->text);
    }
    if (field[kEventDvid] && !is_missing_value(field[kEventDvid]->text)) {
      r.dvid = std::string(field[kEventDvid]->text);
    }
    const std::optional<int> mdv =
        field[kEventMdv] ? std::optional<int>(whole(*field[kEventMdv],
                                                    "an MDV 0 or 1", 0, 1, -1))
                         : std::nullopt;
    // MDV as given, else (no column, or a missing field) a DV is observed.
    const bool measured = mdv && *mdv >= 0 ? *mdv == 0 : r.dv.has_value();
    const int implied = r.amount > 0.0 ? 1 : measured ? 0 : 2;
    r.evid = field[kEventEvid] ? whole(*field[kEventEvid],
                                       "an EVID 0, 1, 2, 3 or 4", 0, 4, implied)
                               : implied;
    r.observed = r.evid == 0 && measured;
    if (r.observed && !r.dv) {
      const CsvField* dv = field[kEventDv] ? field[kEventDv] : field[kEventMdv];
      fail(dv->offset, "a DV (MDV is 0)", found_field(*dv));
    }
    check_dose(field, r);
  }

  void read_rate(const CsvField& f, EventRecord& r) const {
    if (is_missing_value(f.text)) return;
    r.rate = field_number(file_, f);
    if (r.rate == -1.0 || r.rate == -2.0) {
      fail(f.offset,
           "a RATE of 0 or more (-1 and -2, a rate or duration from the model, "
           "are not supported)",
           quote_text(f.text));
    }
    if (!(r.rate >= 0.0))
      fail(f.offset, "a RATE of 0 or more", quote_text(f.text));
  }

  // A dose's interval, repetition and infusion fields agree.
  void check_dose(const std::array<const CsvField*, kEventColumnCount>& field,
                  const EventRecord& r) const {
    const auto at = [&](EventColumn c, EventColumn otherwise) {
      return field[c] ? field[c]->offset : field[otherwise]->offset;
    };
    if (r.interval > 0.0) return check_infusion(field, r);
    if (r.steady_state > 0) {
      fail(at(kEventIi, kEventSs),
           "an II above 0 for a steady-state dose (SS " +
               std::to_string(r.steady_state) + ")",
           field[kEventIi] ? found_field(*field[kEventIi]) : "no II column");
    }
    if (r.additional > 0) {
      fail(at(kEventIi, kEventAddl),
           "an II above 0 for additional doses (ADDL)",
           field[kEventIi] ? found_field(*field[kEventIi]) : "no II column");
    }
    check_infusion(field, r);
  }

  void check_infusion(
      const std::array<const CsvField*, kEventColumnCount>& field,
      const EventRecord& r) const {
    if (r.rate > 0.0 && r.duration > 0.0) {
      fail(field[kEventDur]->offset, "either a RATE or a DUR, not both",
           quote_text(field[kEventDur]->text));
    }
  }

  void check_order(const CsvField& time, const EventRecord& r) {
    const auto [last, added] =
        last_.try_emplace(r.id, Last{r.time, std::string(time.text)});
    if (added) {
      table_.ids.push_back(r.id);
      return;
    }
    if (r.time < last->second.time) {
      fail(time.offset,
           "a TIME of " + last->second.text +
               " or more (the record before it of ID " + r.id + ")",
           quote_text(time.text));
    }
    last->second = Last{r.time, std::string(time.text)};
  }

  const TextFile& file_;
  const EventColumnNames& names_;
  std::vector<int> roles_;  // of each column
  EventTable table_;
  struct Last {
    double time = 0.0;
    std::string text;
  };
  std::unordered_map<std::string, Last> last_;  // record of each ID
};

}  // namespace

const char* event_column_name(EventColumn column) { return kNames[column]; }

EventTable read_event_table(const TextFile& file,
                            const EventColumnNames& names) {
  return EventReader(file, names).run();
}

}  // namespace identify
