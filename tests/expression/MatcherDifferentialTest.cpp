// differential test: to come
