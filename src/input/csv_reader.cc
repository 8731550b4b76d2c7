// Delimited tables through libcsv, with places. libcsv reports a field's
// content and a record's end but not where they stood, so the text is fed
// to it one byte at a time: when a field ends, the byte being fed is the
// delimiter or line break that ended it, and the field began at the first
// byte after the previous field's end that is not a blank or a line break
// (libcsv skips exactly those before a field). Comment lines are never fed.
// libcsv is C: nothing may be thrown through it, so a fault raised while it
// calls back is kept and rethrown once the byte has been fed.
#include "input/csv_reader.h"

#include <csv.h>

#include <exception>
#include <new>
#include <string>
#include <vector>

namespace identify {

namespace {

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.substr(text.size() - suffix.size()) == suffix;
}

bool is_line_break(char c) { return c == '\n' || c == '\r'; }

int blank_or_tab(unsigned char c) { return c == ' ' || c == '\t'; }
int blank_only(unsigned char c) { return c == ' '; }

class Reader {
 public:
  Reader(const TextFile& file, char delimiter,
         const std::function<void(const CsvRecord&)>& on_record)
      : file_(file),
        text_(file.text()),
        delimiter_(delimiter),
        on_record_(on_record) {
    if (csv_init(&parser_, CSV_STRICT | CSV_STRICT_FINI) != 0) {
      throw std::bad_alloc();
    }
    csv_set_delim(&parser_, static_cast<unsigned char>(delimiter));
    csv_set_space_func(&parser_, delimiter == '\t' ? blank_only : blank_or_tab);
  }
  ~Reader() { csv_free(&parser_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  void run() {
    for (at_ = 0; at_ < text_.size(); ++at_) {
      const char c = text_[at_];
      if (!in_record_ && c == '#' && at_line_start(at_)) {
        skip_comment();
        continue;
      }
      if (!in_record_ && !is_blank(c) && !is_line_break(c)) in_record_ = true;
      const std::size_t fed =
          csv_parse(&parser_, &text_[at_], 1, on_field, on_end, this);
      rethrow_pending();
      if (fed != 1) syntax_fault();
    }
    at_ = text_.size();
    const int status = csv_fini(&parser_, on_field, on_end, this);
    rethrow_pending();
    if (status != 0) {
      throw input_error(file_.pos(field_start()),
                        "a closing quote for this field", "end of file");
    }
  }

 private:
  static void on_field(void* s, std::size_t len, void* data) {
    static_cast<Reader*>(data)->add_field(static_cast<const char*>(s), len);
  }
  static void on_end(int, void* data) {
    Reader* self = static_cast<Reader*>(data);
    try {
      self->end_record();
    } catch (...) {
      self->pending_ = std::current_exception();
    }
  }

  bool is_blank(char c) const {
    return c == ' ' || (c == '\t' && delimiter_ != '\t');
  }
  bool at_line_start(std::size_t at) const {
    return at == 0 || is_line_break(text_[at - 1]);
  }
  void skip_comment() {
    while (at_ + 1 < text_.size() && !is_line_break(text_[at_ + 1])) ++at_;
    field_from_ = at_ + 1;
  }
  // First byte of the field that ends at at_ (at_ itself for an empty one).
  std::size_t field_start() const {
    std::size_t start = field_from_;
    while (start < at_ &&
           (is_blank(text_[start]) || is_line_break(text_[start]))) {
      ++start;
    }
    return start;
  }

  void add_field(const char* s, std::size_t len) {
    if (count_ == texts_.size()) {
      texts_.emplace_back();
      fields_.emplace_back();
    }
    texts_[count_].assign(s != nullptr ? s : "", s != nullptr ? len : 0);
    const std::size_t start = field_start();
    fields_[count_].offset = start;
    fields_[count_].quoted = start < at_ && text_[start] == '"';
    field_from_ = at_ + 1;
    ++count_;
  }

  void end_record() {
    for (std::size_t k = 0; k < count_; ++k) fields_[k].text = texts_[k];
    const std::size_t count = count_;
    count_ = 0;
    in_record_ = false;
    field_from_ = at_ + 1;
    on_record_(
        CsvRecord{std::span<const CsvField>(fields_.data(), count), at_});
  }

  void rethrow_pending() {
    if (pending_) std::rethrow_exception(pending_);
  }

  [[noreturn]] void syntax_fault() const {
    if (csv_error(const_cast<csv_parser*>(&parser_)) == CSV_ENOMEM) {
      throw std::bad_alloc();
    }
    const SourcePos pos = file_.pos(at_);
    const std::string found = quote_text(text_.substr(at_, 1));
    if (text_[at_] == '"') {
      throw input_error(pos, "a quote only at the start of a field", found);
    }
    throw input_error(pos, "a delimiter or a line end after a closing quote",
                      found);
  }

  const TextFile& file_;
  std::string_view text_;
  char delimiter_;
  const std::function<void(const CsvRecord&)>& on_record_;
  csv_parser parser_{};
  std::size_t at_ = 0;          // the byte being fed
  std::size_t field_from_ = 0;  // just past the previous field's end
  bool in_record_ = false;
  std::vector<std::string> texts_;  // contents of the record's fields
  std::vector<CsvField> fields_;
  std::size_t count_ = 0;  // fields of the record so far
  std::exception_ptr pending_;
};

}  // namespace

char table_delimiter(const TextFile& file) {
  if (ends_with(file.name(), ".tsv") || ends_with(file.name(), ".tab")) {
    return '\t';
  }
  if (ends_with(file.name(), ".csv")) return ',';
  std::string_view text = file.text();
  while (!text.empty()) {
    const std::size_t eol = text.find_first_of("\r\n");
    const std::string_view line = text.substr(0, eol);
    if (!line.empty() && line.front() != '#') {
      return line.find('\t') != std::string_view::npos ? '\t' : ',';
    }
    if (eol == std::string_view::npos) break;
    text.remove_prefix(eol + 1);
  }
  return ',';
}

void read_csv(const TextFile& file, char delimiter,
              const std::function<void(const CsvRecord&)>& on_record) {
  Reader(file, delimiter, on_record).run();
}

}  // namespace identify
