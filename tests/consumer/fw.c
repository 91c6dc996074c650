/* Stands for a firmware program: code and a table of 32-bit words. */
const unsigned int table[] = {0x11223344u, 0xa1b2c3d4u, 0xdeadbeefu, 0xcafef00du};

int main(void)
{
	return (int)(table[0] >> 24);
}
