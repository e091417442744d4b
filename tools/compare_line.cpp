#include "compare_line.h"

#include <string_view>

#include "compare_error.h"

using nlohmann::json;

namespace {

class top_fields : public nlohmann::json_sax<json> {
 public:
  line_top top;
  std::string error;

  bool null() override { return value(json()); }
  bool boolean(bool v) override { return value(json(v)); }
  bool number_integer(number_integer_t v) override { return value(json(v)); }
  bool number_unsigned(number_unsigned_t v) override { return value(json(v)); }
  bool number_float(number_float_t v, const string_t &) override { return value(json(v)); }
  bool string(string_t &v) override { return value(json(v)); }
  bool binary(binary_t &) override { return value(json()); }
  bool start_object(std::size_t) override { return open(json::object()); }
  bool start_array(std::size_t) override { return open(json::array()); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool key(string_t &k) override {
    if (depth_ == 1)
      wanted_ = wanted(k) ? (key_ = k, true) : false;
    return true;
  }
  bool parse_error(std::size_t, const std::string &,
                   const nlohmann::detail::exception &e) override {
    error = e.what();
    return false;
  }

 private:
  int depth_ = 0;
  std::string key_;

  bool wanted_ = false;

  // A file of 100,000 answers a side has 200,000 lines of 30 fields: only
  // the few that are read are kept.
  static bool wanted(std::string_view k) {
    static constexpr std::string_view keys[] = {"type", "name",        "answer",
                                                "unit", "uncertainty", "core_cycles"};
    for (std::string_view key : keys)
      if (k == key)
        return true;
    return false;
  }

  bool value(json v) {
    if (depth_ == 1 && wanted_)
      top.fields[key_] = std::move(v);
    return true;
  }
  bool open(json kind) {
    if (depth_ == 0)
      top.object = kind.is_object();
    else
      value(std::move(kind));
    if (++depth_ > kMaxLineDepth) {
      error = "nested deeper than " + std::to_string(kMaxLineDepth) + " levels";
      return false;
    }
    return true;
  }
  bool close() {
    depth_--;
    return true;
  }
};

}  // namespace

line_top read_line_top(const std::string &text, const std::string &where) {
  top_fields sax;
  if (!json::sax_parse(text, &sax))
    throw input_error(where + ": malformed JSON line (" + sax.error + ")");
  return sax.top;
}

json read_line_tree(const std::string &text, const std::string &where) {
  try {
    return json::parse(text);
  } catch (const json::exception &e) {
    throw input_error(where + ": malformed JSON line (" + e.what() + ")");
  }
}
