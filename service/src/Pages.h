#pragma once

#include <string>
#include <vector>

namespace quillet {

class Checker;
class Lexicon;

// The service's web pages: plain HTML in Chinese. Every value put into a
// page is escaped.
namespace pages {

std::string escape(const std::string& text);

std::string home(bool registrationOpen);
// notice: a message above the form; error true shows it as an error.
std::string registration(bool open, const std::string& notice, bool error, const std::string& name);
struct AccountView
{
    bool shown = false; // logged in: the fields below are filled
    std::string name;
    bool vip = false;
    long long created = 0;
    std::vector<std::string> words;
};
std::string account(const AccountView& view, const std::string& notice);
std::string contact();
std::string update(const std::string& clientVersion);
std::string dictionary(const std::string& word, const Lexicon& lexicon, const Checker& checker);
std::string notFound();

} // namespace pages
} // namespace quillet
