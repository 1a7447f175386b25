#include "ProductTable.h"

namespace {
constexpr struct Products {
    ProductTable table{};
    constexpr Products() {
        for (uint32_t r = 0; r < 16; ++r)
            for (uint32_t c = 0; c < 16; ++c)
                table[r][c] = r * c;
    }
} kProducts;
}  // namespace

const ProductTable& BuildProductTable16() {
    return kProducts.table;
}
