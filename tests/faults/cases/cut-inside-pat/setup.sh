# 13.00 with 1024-byte pages: FCR pages of 2048 bytes, PAT pair 1 at 8192 and
# 10240. The file ends 100 bytes into the pair's second page, so no logical
# page can be translated; 13.00 reports that on standard error.
build --version 13.00 --page-size 1024 --records 70 D13.DAT
cut D13.DAT 10340
