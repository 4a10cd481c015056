#pragma once

#include <TessellaExport.h>

#include <ostream>
#include <streambuf>

namespace CorvaneCal {

// An output stream that drops every byte: the writer's measuring pass runs into it.
class TESSELLA_EXPORT WCBNull : public std::ostream {
public:
    WCBNull();
    ~WCBNull() override;

private:
    class Sink : public std::streambuf {
    protected:
        int_type overflow(int_type c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
    };
    Sink sink_;
};

} // namespace CorvaneCal
