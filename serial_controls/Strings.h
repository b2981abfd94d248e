#pragma once
// A list of texts as the selector sees it: the selector fills and searches whatever list it is
// given, a plain one in memory or a control's item list.

#include <string>
#include <vector>

// Case-insensitive comparison of 8-bit texts; only ASCII letters are folded, which is all a
// port name or a setting's display text contains.
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);

class TStrings {
public:
    virtual ~TStrings() = default;

    virtual int Count() const = 0;
    virtual std::string Get(int index) const = 0;
    virtual void Clear() = 0;
    virtual void Add(const std::string& text) = 0;

    // Replaces the whole contents.
    virtual void Assign(const std::vector<std::string>& texts);

    // Index of the first entry equal to `text` ignoring case, or -1.
    int IndexOfText(const std::string& text) const;

    std::vector<std::string> ToVector() const;
};

// The plain list, kept in memory.
class TStringList : public TStrings {
public:
    int Count() const override { return static_cast<int>(items_.size()); }
    std::string Get(int index) const override { return items_.at(static_cast<std::size_t>(index)); }
    void Clear() override { items_.clear(); }
    void Add(const std::string& text) override { items_.push_back(text); }
    void Assign(const std::vector<std::string>& texts) override { items_ = texts; }

private:
    std::vector<std::string> items_;
};
