#include "lib/query_key.h"

#include "lib/siphash.h"

namespace zarvel {
namespace {

void hash_value(SipHasher13& h, const Value& value);

void hash_string(SipHasher13& h, std::string_view s) {
  h.write(s.data(), s.size());
  h.write_u8(0xFF);
}

void hash_object(SipHasher13& h, const Object& object) {
  h.write_u64_le(object.size());
  for (const Object::Member& member : object) {
    hash_string(h, member.key);
    hash_value(h, member.value);
  }
}

void hash_value(SipHasher13& h, const Value& value) {
  h.write_u64_le(static_cast<std::uint64_t>(value.kind()));
  switch (value.kind()) {
    case Kind::kNull:
      break;
    case Kind::kBool:
      h.write_u8(value.as_bool() ? 1 : 0);
      break;
    case Kind::kNumber: {
      Number n = value.as_number();
      // 0.0 == -0.0, so equal queries must hash alike.
      bool zero_float = n.is_float() && n.as_float() == 0.0;
      h.write_u64_le(zero_float ? 0 : n.bits());
      break;
    }
    case Kind::kString:
      hash_string(h, value.as_string());
      break;
    case Kind::kArray:
      h.write_u64_le(value.as_array().size());
      for (const Value& element : value.as_array()) hash_value(h, element);
      break;
    case Kind::kObject:
      hash_object(h, value.as_object());
      break;
  }
}

}  // namespace

std::uint64_t query_key(std::string_view collection_name, const Object& query) {
  SipHasher13 h(0, 0);
  hash_string(h, collection_name);
  hash_object(h, query);
  return h.finish();
}

}  // namespace zarvel
