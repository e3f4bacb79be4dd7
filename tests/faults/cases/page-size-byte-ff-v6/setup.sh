# 6.00/512: the page-size byte (FCR 9) is 0xFF in both copies (pages of
# 65280 bytes, FCR pages as large).
build --version 6.00 --page-size 512 --records 40 D6.DAT
poke D6.DAT 9 ff
poke D6.DAT 521 ff
