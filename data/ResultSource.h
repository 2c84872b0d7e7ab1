#pragma once

class ResultSet;

// What a field reads its row from: the result its query holds now.
class ResultSource {
public:
    // The result set, or the closed-dataset failure.
    virtual ResultSet& open() const = 0;

protected:
    ~ResultSource() = default;
};
