# As part-missing, but DATA.^02 is a folder: a name that exists and cannot
# be read as a file (this way also when the tests run as root).
build --version 9.50 --page-size 1024 --records 800 --part-size 16K DATA.MKD
rm DATA.^02
mkdir DATA.^02
