// One subscription pattern over object names, held as its text. Matching is either exact
// (the fetch question: does anybody want exactly this name) or wildcard (the notification
// question); the rules and examples are at the top of TObjectExpression.cpp. Plain value
// type, ordered by its text.
#pragma once

#include <string>

class TObjectExpression final {
 public:
  explicit TObjectExpression(std::string expression);

  const std::string& GetString() const { return expression_; }
  // exact: the name equals the text. Otherwise the wildcard rules apply.
  bool Match(const std::string& name, bool exact) const;

  bool operator<(const TObjectExpression& other) const { return expression_ < other.expression_; }
  bool operator==(const TObjectExpression& other) const { return expression_ == other.expression_; }

 private:
  std::string expression_;
};
