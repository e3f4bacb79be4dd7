ln -s /dev/full LASTREC.DMP
