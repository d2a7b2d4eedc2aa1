#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The process arguments, kept verbatim, and the three questions the program asks about an
// option given by its bare name ("p", "sf"): present?, text value?, integer value?
//
// An option is spelled bare or after "/", "-" or "--", all in lower or all in upper case,
// and its value is the next argument. Matching is exact (no prefixes, no "=" splitting) and
// takes the first occurrence of each spelling. The eight spellings are tried in a fixed
// order, so the winner is decided by that order, not by the position on the command line.
//
// Lookups rewrite a scratch list and are therefore neither const nor re-entrant.
class CmdLineHelper {
  public:
    // `argv[0]` is the program path and is not kept; with `argc` below 2 the store is empty.
    CmdLineHelper(int argc, const wchar_t* const* argv);
    virtual ~CmdLineHelper();

    CmdLineHelper(const CmdLineHelper&) = delete;
    CmdLineHelper& operator=(const CmdLineHelper&) = delete;

    // Refills the scratch list with the eight spellings of `name`, in lookup order:
    // n, /n, -n, --n, N, /N, -N, --N (case made per code unit under the process locale).
    void BuildNameForms(const wchar_t* name);

    bool IsPresent(const wchar_t* name);

    // The argument after the first spelling (in lookup order) that is followed by a
    // non-empty argument, whatever that argument's text; otherwise a copy of `defaultValue`.
    std::wstring GetValue(const wchar_t* name, const wchar_t* defaultValue);

    // The value converted as wcstoll with base 0 does; `defaultValue` when the option is
    // absent, has no value, or its text starts with no digit of the selected base.
    int64_t GetInt64(const wchar_t* name, int64_t defaultValue);

    // Read-only views, for diagnostics and tests.
    const std::vector<std::wstring>& Arguments() const { return arguments; }
    const std::vector<std::wstring>& NameForms() const { return nameForms; }

  private:
    // Index of the first argument equal to `form`, or -1.
    int Find(const std::wstring& form) const;

    std::vector<std::wstring> arguments;
    std::vector<std::wstring> nameForms;
};
