#include "PindleCore/api/PNPathMaker.hpp"

namespace pindle {

namespace {

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    std::size_t position = 0;
    while ((position = text.find(what, position)) != std::string::npos) {
        text.replace(position, what.size(), with);
        position += with.size();
    }
}

}  // namespace

const PNPathMaker& PNPathMaker::shared() {
    static const PNPathMaker* maker = new PNPathMaker;
    return *maker;
}

std::vector<std::string> PNPathMaker::params(const std::string& pathTemplate) const {
    std::vector<std::string> names;
    std::size_t open = pathTemplate.find('{');
    while (open != std::string::npos) {
        std::size_t next = pathTemplate.find('{', open + 1);
        std::string piece = pathTemplate.substr(
            open + 1, next == std::string::npos ? std::string::npos : next - open - 1);
        names.push_back(piece.substr(0, piece.find('}')));
        open = next;
    }
    return names;
}

std::optional<std::string> PNPathMaker::makePath(const std::string& pathTemplate,
                                                 const platform::Dictionary& values) const {
    std::string result = pathTemplate;
    for (const std::string& name : params(pathTemplate)) {
        auto it = values.find(name);
        if (it == values.end())
            return std::nullopt;
        std::optional<std::string> text = it->second.plainText();
        if (!text)
            return std::nullopt;
        replaceAll(result, "{" + name + "}", *text);
    }
    return result;
}

}  // namespace pindle
