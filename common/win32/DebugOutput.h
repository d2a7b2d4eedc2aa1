#pragma once

// The debugger output: where the logger writes a report when no event library is bound, and
// where code that cannot use the logger writes its failures. Whatever writes to it is given
// one where it is built; tests give one that records.
class DebugOutput {
  public:
    virtual ~DebugOutput() = default;
    virtual void Wide(const wchar_t* text) = 0;
    virtual void Narrow(const char* text) = 0;
};

// OutputDebugStringW and OutputDebugStringA.
class RealDebugOutput : public DebugOutput {
  public:
    void Wide(const wchar_t* text) override;
    void Narrow(const char* text) override;
};
