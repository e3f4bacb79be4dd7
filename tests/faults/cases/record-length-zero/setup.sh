# 8.00/512, FCR pages of 2048 bytes: the record length (FCR 0x16) is 0 in
# both copies.
build --version 8.00 --page-size 512 --records 40 D8.DAT
poke D8.DAT 22 00 00
poke D8.DAT 2070 00 00
