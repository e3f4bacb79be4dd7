# Common setup of the tool's golden cases: the data file that the location
# report reads after the walk. A page of zero bytes is a file whose format
# the report does not support, which it says in two lines on standard output
# and which ends the run with exit code 0.
head -c 4096 /dev/zero >X.MKD
head -c 4096 /dev/zero >./-K5
