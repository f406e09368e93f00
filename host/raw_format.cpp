#include "host/raw_format.h"

#include "host/codes.h"

RawFormatChoice ChooseRawFormat(const std::string& /*path*/, std::optional<OptionsWord> requested,
                                const std::string& option_name) {
  if (requested) return {requested, option_name, ""};
  return {std::nullopt, "",
          "a raw VOX file (no coding tag) does not say how it is coded; name the coding with " + option_name +
              " CODE (" + CodingNameList() + ")"};
}
